#pragma once
// Decisions of the account natives, without system calls: the well-known service accounts,
// the built-in domain, how an account name is written, and the result texts of creating a
// user. Error texts begin with a space or a digit, success texts with a SID ("S-"), so the
// Java side can tell them apart.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "natives/base/CodeText.h"

namespace shipkit::natives {

// The name of one of the three well-known service SIDs (exact, case-sensitive), or none.
std::optional<std::wstring_view> wellKnownServiceAccount(std::wstring_view sid);

// How an account text is read. Only a text that begins with "S-" (either case) is a SID
// string: the system's converter also takes the two-letter abbreviations of security
// descriptors ("WD" is Everyone, "AU" Authenticated Users, in either case), and an account
// name must never be turned into such a group. Every other text is an account name. A
// missing or empty text names no account (a name look-up would answer it with a domain's SID).
enum class AccountText { None, SidString, Name };
AccountText accountTextForm(const wchar_t* text);

// Whether the SID string names an alias of the built-in domain ("S-1-5-32-", case-sensitive).
bool isBuiltinSid(std::wstring_view sid);

// The account name as getAccountName0 returns it: the name alone when only the name is asked
// for; "domain\name" for a SID outside the built-in domain with a non-empty domain; ".\name"
// otherwise (the local machine).
std::wstring accountNameText(std::wstring_view sid, std::wstring_view name, std::wstring_view domain,
                             bool nameOnly);

// The domain to log on with for a profile look-up: "." for built-in SIDs and empty domains.
std::wstring logonDomain(std::wstring_view sid, std::wstring_view domain);

// The steps of creating a user, numbered as the error texts report them.
enum class AddUserStep : int {
  CreateGroup = 1,
  AddUser = 2,
  ReadUser = 3,
  AddToGroup = 4,
  ConvertSid = 5,
  ReadGroup = 6,
};

// The result texts of addUser0.
std::wstring addUserError(AddUserStep step, std::uint32_t status);              // "%d %d"
std::wstring addUserParameterError(std::uint32_t status, std::uint32_t index);  // "2 %d %d"
std::wstring addUserSidError();                                                 // "5"
// The user's SID, followed by " <group SID> true|false" when the group's SID is known.
std::wstring addUserSuccess(std::wstring_view userSid, std::optional<std::wstring_view> groupSid,
                            bool groupCreated);

// Statuses of creating a group that mean "it exists already".
bool groupExistsStatus(std::uint32_t status);
// Statuses of adding a member that are success (0, or already a member).
bool memberAddedStatus(std::uint32_t status);

}  // namespace shipkit::natives
