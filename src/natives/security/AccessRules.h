#pragma once
// What ACLHandling.addACE grants: the access mask from its four booleans and the trustee
// from its kind.

#include <cstdint>

namespace shipkit::natives {

inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericExecute = 0x20000000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;

std::uint32_t accessMaskOf(bool read, bool write, bool execute, bool all);

// The trustee of a kind. Kind 3: the account argument (a SID string or an account name); 1: Authenticated
// Users (S-1-5-11); 5: Power Users (S-1-5-32-547, the built-in alias that relative id 547 denotes, below the
// built-in domain 32); any other: Everyone (S-1-1-0).
struct TrusteeSid {
  bool fromAccount = false;
  std::uint8_t authority = 0;
  std::uint32_t subAuthorities[2] = {0, 0};
  int subAuthorityCount = 0;
};
TrusteeSid trusteeOfKind(int kind);

}  // namespace shipkit::natives
