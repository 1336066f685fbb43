#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <stdlib.h>

namespace tarnwick::jet::test {

// A test's own folder under /tmp, removed after it, with writable copies of shared samples.
class ScratchFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarnwick-jet-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // The samples are read-only, and an engine run locks and may replace what it is given.
    std::string copy(const std::filesystem::path& from, const std::string& name) {
        namespace fs = std::filesystem;
        const fs::path to = dir_ / name;
        fs::remove(to); // a read-only earlier copy cannot be written over
        fs::copy_file(from, to);
        fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
        return to.string();
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const auto p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::size_t entries() const {
        namespace fs = std::filesystem;
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

    std::filesystem::path dir_;
};

} // namespace tarnwick::jet::test
