#pragma once
// Default texts for every message the launcher shows. The launcher has none of its own: a
// message the container lacks is shown as an empty text, so the packer fills in what a
// manifest leaves out, in English, and adds a German set for the language key "de".

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "pack/ContainerWriter.h"

namespace shipkit::pack {

// id -> text, for "" (English, the container's own table) or "de".
const std::map<int32_t, std::u16string>& defaultMessages(std::string_view language);

// The default of `id` for a localized set's key ("" for the message table), or null.
const std::u16string* defaultMessage(std::string_view key, int32_t id);

struct FilledMessages {
  int english = 0;  // message table entries added
  int german = 0;   // entries of the added "de" set; 0 when the manifest has its own "de" set
};

// Adds the English default of every message id the content leaves out. A localized set for
// "de" with the German texts of exactly those ids goes before the content's own sets, unless
// the content has a set for "de" already: a text the vendor wrote is never replaced by a
// default, in any language.
FilledMessages fillDefaultMessages(ContainerContent& content);

}  // namespace shipkit::pack
