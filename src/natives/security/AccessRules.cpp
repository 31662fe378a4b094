#include "natives/security/AccessRules.h"

namespace shipkit::natives {

std::uint32_t accessMaskOf(bool read, bool write, bool execute, bool all) {
  return (read ? kGenericRead : 0) | (write ? kGenericWrite : 0) | (execute ? kGenericExecute : 0) |
         (all ? kGenericAll : 0);
}

TrusteeSid trusteeOfKind(int kind) {
  TrusteeSid sid;
  switch (kind) {
    case 3:
      sid.fromAccount = true;
      break;
    case 1:  // Authenticated Users
      sid.authority = 5;
      sid.subAuthorities[0] = 11;
      sid.subAuthorityCount = 1;
      break;
    case 5:  // Power Users: the alias 547 lives below the built-in domain (32)
      sid.authority = 5;
      sid.subAuthorities[0] = 32;
      sid.subAuthorities[1] = 547;
      sid.subAuthorityCount = 2;
      break;
    default:  // Everyone
      sid.authority = 1;
      sid.subAuthorities[0] = 0;
      sid.subAuthorityCount = 1;
      break;
  }
  return sid;
}

}  // namespace shipkit::natives
