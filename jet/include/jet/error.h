#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace tarnwick::jet {

// Raised for anything in a file that cannot be read as the format says. The message names the
// structure and, where there is one, the page, so that a report can point at the damage.
// Header-only, like bytes.h and format.h: the engine's ground floor has no source of its own.
class JetError : public std::runtime_error {
public:
    static constexpr std::uint32_t noPage = 0xFFFFFFFFu;

    JetError(std::string structure, std::uint32_t page, const std::string& what)
        : std::runtime_error(compose(structure, page, what)), structure_(std::move(structure)),
          page_(page), detail_(what) {}

    const std::string& structure() const { return structure_; }
    std::uint32_t page() const { return page_; }
    // The message without the structure and page prefix.
    const std::string& detail() const { return detail_; }

private:
    static std::string compose(const std::string& structure, std::uint32_t page,
                               const std::string& what) {
        std::string s = structure;
        if (page != noPage) s += " (page " + std::to_string(page) + ")";
        s += ": ";
        s += what;
        return s;
    }

    std::string structure_;
    std::uint32_t page_;
    std::string detail_;
};

// Another process holds the database or its lock file (.ldb beside it).
class DatabaseInUse : public JetError {
public:
    using JetError::JetError;
};

// The database may not be rewritten by whoever runs us (see jet/permissions.h);
// nothing was written.
class RewriteRefused : public JetError {
public:
    using JetError::JetError;
};

// An Access 2007+ file encrypted with a database password: no page past the first can be read.
// detail() reads "is encrypted with a database password; Tarnwick cannot open it", to follow
// the file's name.
class DatabaseEncrypted : public JetError {
public:
    using JetError::JetError;
};

} // namespace tarnwick::jet
