#include "jet/error.h"

namespace tarnwick::jet {

namespace {
std::string compose(const std::string& structure, std::uint32_t page, const std::string& what) {
    std::string s = structure;
    if (page != JetError::noPage) s += " (page " + std::to_string(page) + ")";
    s += ": ";
    s += what;
    return s;
}
} // namespace

JetError::JetError(std::string structure, std::uint32_t page, const std::string& what)
    : std::runtime_error(compose(structure, page, what)), structure_(std::move(structure)),
      page_(page), detail_(what) {}

} // namespace tarnwick::jet
