#include "natives/accounts/AccountRules.h"

namespace shipkit::natives {

namespace {

std::wstring decimal(std::int64_t value) {
  return std::to_wstring(std::int32_t(std::uint32_t(value)));
}

constexpr std::wstring_view kBuiltinPrefix = L"S-1-5-32-";

}  // namespace

std::optional<std::wstring_view> wellKnownServiceAccount(std::wstring_view sid) {
  if (sid == L"S-1-5-18") return L"NT AUTHORITY\\System";
  if (sid == L"S-1-5-19") return L"NT AUTHORITY\\LocalService";
  if (sid == L"S-1-5-20") return L"NT AUTHORITY\\NetworkService";
  return std::nullopt;
}

AccountText accountTextForm(const wchar_t* text) {
  if (!text || !*text) return AccountText::None;
  if ((text[0] == L'S' || text[0] == L's') && text[1] == L'-') return AccountText::SidString;
  return AccountText::Name;
}

bool isBuiltinSid(std::wstring_view sid) {
  return sid.starts_with(kBuiltinPrefix);
}

std::wstring accountNameText(std::wstring_view sid, std::wstring_view name, std::wstring_view domain,
                             bool nameOnly) {
  if (nameOnly) return std::wstring(name);
  if (!isBuiltinSid(sid) && !domain.empty()) return std::wstring(domain) + L"\\" + std::wstring(name);
  return L".\\" + std::wstring(name);
}

std::wstring logonDomain(std::wstring_view sid, std::wstring_view domain) {
  if (isBuiltinSid(sid) || domain.empty()) return L".";
  return std::wstring(domain);
}

std::wstring addUserError(AddUserStep step, std::uint32_t status) {
  return decimal(int(step)) + L" " + decimal(status);
}

std::wstring addUserParameterError(std::uint32_t status, std::uint32_t index) {
  return addUserError(AddUserStep::AddUser, status) + L" " + decimal(index);
}

std::wstring addUserSidError() {
  return decimal(int(AddUserStep::ConvertSid));
}

std::wstring addUserSuccess(std::wstring_view userSid, std::optional<std::wstring_view> groupSid,
                            bool groupCreated) {
  std::wstring text(userSid);
  if (groupSid) {
    text += L" ";
    text += *groupSid;
    text += groupCreated ? L" true" : L" false";
  }
  return text;
}

bool groupExistsStatus(std::uint32_t status) {
  return status == 2223 || status == 1379;  // NERR_GroupExists, ERROR_ALIAS_EXISTS
}

bool memberAddedStatus(std::uint32_t status) {
  return status == 0 || status == 1378;  // ERROR_MEMBER_IN_ALIAS
}

}  // namespace shipkit::natives
