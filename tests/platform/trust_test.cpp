// The rule of trust on the descriptors each case has on Windows, written as SDDL and made by the
// system's own conversion (entries that wine's conversion cannot read are put together by
// hand): the package's own folder and files, what users and earlier rights leave behind.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
// The system's other headers need windows.h first.
#include <sddl.h>

#include <cstring>
#include <vector>

#include "platform/trust.h"
#include "product_facts.h"

namespace {

using namespace platform::trust;

// The account that asks: a user other than the ones who own what is examined.
constexpr wchar_t SELF[] = L"S-1-5-21-1-2-3-1003";

struct Descriptor {
  PSECURITY_DESCRIPTOR sd = nullptr;
  explicit Descriptor(const wchar_t* sddl) {
    EXPECT_TRUE(
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        << "cannot read " << ::testing::PrintToString(std::wstring(sddl));
  }
  ~Descriptor() { ::LocalFree(sd); }
};

std::vector<BYTE> sidOf(const wchar_t* text) {
  PSID sid = nullptr;
  ::ConvertStringSidToSidW(text, &sid);
  std::vector<BYTE> bytes(static_cast<const BYTE*>(sid),
                          static_cast<const BYTE*>(sid) + ::GetLengthSid(sid));
  ::LocalFree(sid);
  return bytes;
}

TEST(Trust, TellsWhatAnotherUserCouldHavePlacedOrChanged) {
  const std::vector<BYTE> self = sidOf(SELF);
  struct Case {
    const char* what;
    const wchar_t* sddl;
    bool folderChangeable;  // othersCouldChange(FOLDER_CHANGES)
    bool fileChangeable;    // othersCouldChange(FILE_CHANGES)
    bool othersWrite;       // othersMay(WRITE_BYTES)
  } cases[] = {
      {"the package's folder", RESKEEPER_FOLDER_RIGHTS_W, false, false, false},
      {"the package's shared file", RESKEEPER_FILE_RIGHTS_W, true, false, true},
      {"the package's closed file", RESKEEPER_CLOSED_FILE_RIGHTS_W, false, false, false},
      {"a folder a user made in ProgramData",
       L"O:S-1-5-21-1-2-3-1001D:AI(A;ID;FA;;;S-1-5-21-1-2-3-1001)(A;OICIID;FA;;;SY)"
       L"(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)",
       true, true, true},
      {"an administrator's folder there with the inherited rights",
       L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
       L"(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)",
       true, true, true},
      {"rights inherited from a drive's root",
       L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)"
       L"(A;OICIID;0x1200a9;;;BU)",
       true, true, true},
      {"generic rights inherited from a drive's root",
       L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;SDGRGWGX;;;AU)", true, true, true},
      {"another user's owner", L"O:S-1-5-21-1-2-3-1002D:PAI(A;;FA;;;SY)(A;;FA;;;BA)", true, true,
       false},
      {"a deny entry before an allow", L"O:BAD:P(D;;FA;;;BU)(A;;FA;;;BU)(A;;FA;;;SY)", true, true,
       true},
      {"rights only what it holds inherits", L"O:SYD:P(A;;FA;;;SY)(A;OICIIO;FA;;;BU)", false, false,
       false},
      {"TrustedInstaller's",
       L"O:S-1-5-80-956008885-3418522649-1831038044-1850960474-76113464D:P(A;;FA;;;SY)", false,
       false, false},
      {"the account's own", L"O:S-1-5-21-1-2-3-1003D:P(A;;FA;;;S-1-5-21-1-2-3-1003)", false, false,
       false},
  };
  for (const Case& c : cases) {
    Descriptor d(c.sddl);
    EXPECT_EQ(othersCouldChange(d.sd, FOLDER_CHANGES, self.data()), c.folderChangeable) << c.what;
    EXPECT_EQ(othersCouldChange(d.sd, FILE_CHANGES, self.data()), c.fileChangeable) << c.what;
    EXPECT_EQ(othersMay(d.sd, WRITE_BYTES, self.data()), c.othersWrite) << c.what;
  }
  // Without the account itself among the trusted, its own object is another user's.
  Descriptor own(L"O:S-1-5-21-1-2-3-1003D:P(A;;FA;;;S-1-5-21-1-2-3-1003)");
  EXPECT_TRUE(othersCouldChange(own.sd, FILE_CHANGES, nullptr));
}

// An ACL of one entry of `type` for `sid`, put together byte by byte: header, mask, for the
// object kinds their flags (and one GUID), the SID, and a callback's condition after it.
std::vector<BYTE> oneEntry(BYTE type, BYTE aceFlags, DWORD mask, const std::vector<BYTE>& sid) {
  const bool object =
      type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
  const bool callback =
      type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
  std::vector<BYTE> ace(sizeof(ACE_HEADER) + sizeof(DWORD));
  std::memcpy(&ace[sizeof(ACE_HEADER)], &mask, sizeof mask);
  if (object) {
    const DWORD flags = ACE_OBJECT_TYPE_PRESENT;
    ace.insert(ace.end(), reinterpret_cast<const BYTE*>(&flags),
               reinterpret_cast<const BYTE*>(&flags) + sizeof flags);
    ace.insert(ace.end(), sizeof(GUID), 0x5A);
  }
  ace.insert(ace.end(), sid.begin(), sid.end());
  if (callback) ace.insert(ace.end(), {'a', 'r', 't', 'x', 0, 0, 0, 0});
  auto* header = reinterpret_cast<ACE_HEADER*>(ace.data());
  *header = {type, aceFlags, static_cast<WORD>(ace.size())};
  std::vector<BYTE> acl(sizeof(ACL) + ace.size() + 8);
  EXPECT_TRUE(::InitializeAcl(reinterpret_cast<PACL>(acl.data()), static_cast<DWORD>(acl.size()),
                              ACL_REVISION_DS));
  EXPECT_TRUE(::AddAce(reinterpret_cast<PACL>(acl.data()), ACL_REVISION_DS, 0, ace.data(),
                       static_cast<DWORD>(ace.size())));
  return acl;
}

TEST(Trust, EveryKindOfAllowEntryGrantsAndNoDaclGrantsEverything) {
  const std::vector<BYTE> users = sidOf(L"S-1-5-32-545");
  const std::vector<BYTE> system = sidOf(L"S-1-5-18");
  for (const BYTE type :
       {BYTE{ACCESS_ALLOWED_ACE_TYPE}, BYTE{ACCESS_ALLOWED_CALLBACK_ACE_TYPE},
        BYTE{ACCESS_ALLOWED_OBJECT_ACE_TYPE}, BYTE{ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE}}) {
    for (const bool trusted : {false, true}) {
      std::vector<BYTE> acl = oneEntry(type, 0, DELETE, trusted ? system : users);
      SECURITY_DESCRIPTOR sd;
      ::InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
      ::SetSecurityDescriptorDacl(&sd, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
      EXPECT_EQ(othersMay(&sd, FILE_CHANGES, nullptr), !trusted) << "entry type " << int{type};
    }
  }
  SECURITY_DESCRIPTOR open;
  ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
  ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);  // D:NO_ACCESS_CONTROL
  EXPECT_TRUE(othersMay(&open, DELETE, nullptr));
  Descriptor nobody(L"O:BAD:P");  // an empty DACL: no one may do anything
  EXPECT_FALSE(othersMay(nobody.sd, FOLDER_CHANGES, nullptr));
}

TEST(Trust, TellsTheSharedFileClosedFromOpen) {
  Descriptor open(RESKEEPER_FILE_RIGHTS_W);
  Descriptor closed(RESKEEPER_CLOSED_FILE_RIGHTS_W);
  Descriptor alsoClosed(RESKEEPER_CLOSED_FILE_RIGHTS_W);
  EXPECT_TRUE(sameRights(closed.sd, alsoClosed.sd));
  EXPECT_FALSE(sameRights(closed.sd, open.sd));
}

}  // namespace
#endif
