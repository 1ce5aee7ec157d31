#pragma once
// Applications in front of which no request is served: password stores, banks, crypto.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vimba {

const std::vector<std::string>& applicationsInterdites();
// The first entry that the name contains as a person reads it: compatibility forms,
// letter case, invisible characters and look-alike letters of other scripts set aside
// (accents still count); none when the name is safe. Any thread.
std::optional<std::string> entreeSensible(std::string_view nom, const std::vector<std::string>& interdites);

}  // namespace vimba
