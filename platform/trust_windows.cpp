// The rule of trust over a security descriptor (see trust.h): who owns the object, and who else
// its DACL lets change it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>

#include "platform/trust.h"

namespace platform::trust {
namespace {

// A SID in room of its own: S-1-5-<subAuthorities...>.
struct NtSid {
  alignas(8) BYTE bytes[SECURITY_MAX_SID_SIZE];
  template <std::size_t N>
  explicit NtSid(const DWORD (&subAuthorities)[N]) noexcept {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    ::InitializeSid(bytes, &nt, static_cast<BYTE>(N));
    for (std::size_t i = 0; i < N; ++i)
      *::GetSidSubAuthority(bytes, static_cast<DWORD>(i)) = subAuthorities[i];
  }
  PSID sid() noexcept { return bytes; }
};

bool equalSid(const void* a, PSID b) noexcept {
  return ::EqualSid(const_cast<PSID>(a), b) != FALSE;
}

// The SID an allow entry grants to, or null when the entry is no allow entry (deny, audit,
// label) or names no single SID (the compound entry, granted to nobody that can be told).
const void* grantee(const ACE_HEADER* header, bool* allow) noexcept {
  *allow = true;
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
      return &reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
      // The SID follows whichever of the two GUIDs the entry holds.
      const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header);
      const BYTE* sid = reinterpret_cast<const BYTE*>(&ace->ObjectType);
      if (ace->Flags & ACE_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
      if (ace->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) sid += sizeof(GUID);
      return sid;
    }
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      return nullptr;
    default:
      *allow = false;
      return nullptr;
  }
}

// The descriptor's DACL; false when it has none (which lets everyone do everything).
bool daclOf(const void* descriptor, PACL* dacl) noexcept {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  *dacl = nullptr;
  return ::GetSecurityDescriptorDacl(const_cast<void*>(descriptor), &present, dacl, &defaulted) &&
         present && *dacl != nullptr;
}

}  // namespace

bool processAccount(Account* account) noexcept {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool got =
      ::GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
      ::CopySid(sizeof account->sid, account->sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
  ::CloseHandle(token);
  return got;
}

bool trustedAccount(const void* sid, const void* self) noexcept {
  if (sid == nullptr || !::IsValidSid(const_cast<void*>(sid))) return false;
  NtSid system({SECURITY_LOCAL_SYSTEM_RID});
  NtSid administrators({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
  NtSid trustedInstaller(
      {SECURITY_SERVICE_ID_BASE_RID, 956008885, 3418522649, 1831038044, 1850960474, 76113464});
  return equalSid(sid, system.sid()) || equalSid(sid, administrators.sid()) ||
         equalSid(sid, trustedInstaller.sid()) ||
         (self != nullptr && ::IsValidSid(const_cast<void*>(self)) &&
          equalSid(sid, const_cast<void*>(self)));
}

bool ownerTrusted(const void* descriptor, const void* self) noexcept {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  return ::GetSecurityDescriptorOwner(const_cast<void*>(descriptor), &owner, &defaulted) &&
         trustedAccount(owner, self);
}

bool othersMay(const void* descriptor, std::uint32_t rights, const void* self) noexcept {
  PACL dacl = nullptr;
  if (!daclOf(descriptor, &dacl)) return true;
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                           FILE_ALL_ACCESS};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(dacl, i, &entry)) return true;  // an entry that cannot be read may grant
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    bool allow = false;
    const void* sid = grantee(header, &allow);
    if (!allow || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    // Every allow entry starts with its mask after the header.
    DWORD mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
    ::MapGenericMask(&mask, &files);
    if ((mask & rights) != 0 && !trustedAccount(sid, self)) return true;
  }
  return false;
}

bool othersCouldChange(const void* descriptor, std::uint32_t changes, const void* self) noexcept {
  return !ownerTrusted(descriptor, self) || othersMay(descriptor, changes, self);
}

bool sameRights(const void* descriptor, const void* other) noexcept {
  PACL mine = nullptr;
  PACL theirs = nullptr;
  const bool hasMine = daclOf(descriptor, &mine);
  const bool hasTheirs = daclOf(other, &theirs);
  if (!hasMine || !hasTheirs) return hasMine == hasTheirs;
  if (mine->AceCount != theirs->AceCount) return false;
  for (DWORD i = 0; i < mine->AceCount; ++i) {
    void* a = nullptr;
    void* b = nullptr;
    if (!::GetAce(mine, i, &a) || !::GetAce(theirs, i, &b)) return false;
    const WORD size = static_cast<const ACE_HEADER*>(a)->AceSize;
    if (size != static_cast<const ACE_HEADER*>(b)->AceSize || std::memcmp(a, b, size) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace platform::trust
