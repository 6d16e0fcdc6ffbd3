// Could another user have placed or changed this folder or file? The one rule by which the
// installer's helper and the session starter decide whether to rely on what they find, told
// from the object's security descriptor alone, so that every case can be tried on descriptors
// written out by hand. Windows only: descriptors and SIDs are the system's own, passed as
// opaque pointers so that callers need no OS header.
#pragma once

#include <cstdint>

namespace platform::trust {

// File and folder access rights, as the system numbers them.
inline constexpr std::uint32_t READ_BYTES = 0x0001;    // FILE_READ_DATA
inline constexpr std::uint32_t WRITE_BYTES = 0x0002;   // FILE_WRITE_DATA, FILE_ADD_FILE
inline constexpr std::uint32_t APPEND = 0x0004;        // FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY
inline constexpr std::uint32_t WRITE_EA = 0x0010;      // FILE_WRITE_EA
inline constexpr std::uint32_t DELETE_CHILD = 0x0040;  // FILE_DELETE_CHILD
inline constexpr std::uint32_t WRITE_ATTRIBUTES = 0x0100;   // FILE_WRITE_ATTRIBUTES
inline constexpr std::uint32_t REMOVE = 0x00010000;         // DELETE
inline constexpr std::uint32_t CHANGE_RIGHTS = 0x00040000;  // WRITE_DAC
inline constexpr std::uint32_t CHANGE_OWNER = 0x00080000;   // WRITE_OWNER

// What no one but the trusted accounts may do to a folder that is relied on: add to it, remove
// or rename what it holds or the folder itself, make it a link (its attributes), or change its
// rights or owner.
inline constexpr std::uint32_t FOLDER_CHANGES = WRITE_BYTES | APPEND | WRITE_EA | DELETE_CHILD |
                                                WRITE_ATTRIBUTES | REMOVE | CHANGE_RIGHTS |
                                                CHANGE_OWNER;
// What no one but the trusted accounts may do to a file that is relied on, beyond writing its
// bytes: delete, rename or replace it, link it elsewhere or make it read-only (its attributes),
// or change its rights or owner.
inline constexpr std::uint32_t FILE_CHANGES =
    APPEND | WRITE_EA | WRITE_ATTRIBUTES | REMOVE | CHANGE_RIGHTS | CHANGE_OWNER;

// An account's SID, room for the largest there is.
struct Account {
  alignas(8) unsigned char sid[68];
};

// The account this process runs as; false when it cannot be told.
bool processAccount(Account* account) noexcept;

// Whether `sid` is SYSTEM, Administrators, TrustedInstaller, or `self` (the account this
// process runs as, which may be null): the accounts whose objects no other user placed.
bool trustedAccount(const void* sid, const void* self) noexcept;

// Whether the descriptor's owner is a trusted account.
bool ownerTrusted(const void* descriptor, const void* self) noexcept;

// Whether the descriptor lets anyone but the trusted accounts do one of `rights` to the object
// itself. Every kind of allow entry grants (the plain one, and the callback, object and
// callback-object ones), generic rights as they map for files, unless it is only inherited by
// what the object holds. A missing DACL lets everyone do everything. A deny entry never makes
// an object safe: another of the caller's groups may still be allowed.
bool othersMay(const void* descriptor, std::uint32_t rights, const void* self) noexcept;

// The rule: whether another user could have placed the object or could change it, that is
// whether its owner is not trusted, or others may do one of `changes` to it.
bool othersCouldChange(const void* descriptor, std::uint32_t changes, const void* self) noexcept;

// Whether the two descriptors' DACLs hold the same entries in the same order.
bool sameRights(const void* descriptor, const void* other) noexcept;

// The other half of the rule, for an object open in `handle` (a HANDLE) that was named by
// `path`, a full path on a drive (C:\...) or a share (\\server\share\...): whether that path
// reached it itself. Its final path is then `path`, or the long form of the short names in it;
// another final path means a link or junction on the way, or that the object is one the system
// followed.
enum class Reached {
  ByItsPath,
  ByAnother,
  Unknown,  // its final path cannot be told, or is too long to compare
};
Reached reachedBy(void* handle, const wchar_t* path) noexcept;

}  // namespace platform::trust
