// The native methods that the fake's installer-runtime classes declare, as the Java
// classes would: the fake rejects a RegisterNatives entry that its class does not declare.
// Kept apart from the launcher's own registration table on purpose, so that a mistake in
// one shows up as a registration failure against the other.
#pragma once

#include <span>
#include <string_view>

namespace fakejvm {

struct DeclaredNative {
  std::string_view className;  // short name, below the natives' package
  std::string_view name;
  std::string_view signature;
};

std::span<const DeclaredNative> declaredNatives();

}  // namespace fakejvm
