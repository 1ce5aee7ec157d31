#pragma once
// Applications in front of which no request is served: password stores, banks, crypto.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vimba {

const std::vector<std::string>& applicationsInterdites();
// The first entry that the name contains, ignoring case; none when the name is safe.
std::optional<std::string> entreeSensible(std::string_view nom, const std::vector<std::string>& interdites);

}  // namespace vimba
