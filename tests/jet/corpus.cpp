#include "corpus.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace tarnwick::jet::test {

namespace fs = std::filesystem;

std::filesystem::path corpusDir() {
    const char* env = std::getenv("TARNWICK_TESTDATA");
    std::filesystem::path base = env ? env : "../shared/testdata";
    return base / "jet";
}

std::vector<std::filesystem::path> corpusFiles() {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    if (!std::filesystem::is_directory(corpusDir(), ec)) return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(corpusDir()))
        if (e.path().extension() == ".mdb") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::filesystem::path> aceCorpusFiles() {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    if (!std::filesystem::is_directory(corpusDir(), ec)) return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(corpusDir()))
        if (e.path().extension() == ".accdb" && e.path().parent_path().filename() != "encrypted")
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::string folderAndStem(const fs::path& p) {
    std::string n = p.parent_path().filename().string() + "_" + p.stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int runCorpusTests(int argc, char** argv) {
    if (corpusFiles().empty()) {
        std::cout << "SKIP: no Jet test databases under " << corpusDir() << "\n";
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

int runAceTests(int argc, char** argv, const std::function<std::string()>& missingPeer) {
    std::string why;
    if (aceCorpusFiles().empty())
        why = "no Access 2007+ test databases under " + corpusDir().string();
    else
        why = missingPeer();
    if (!why.empty()) {
        std::cout << "SKIP: " << why << "\n";
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

fs::path jetpeer() {
    return corpusDir().parent_path().parent_path() / "tools" / "jetpeer" / "jetpeer";
}

std::string run(const std::string& cmd, int* status, bool withErrors) {
    FILE* p = ::popen((cmd + (withErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
    std::string text;
    char buf[65536];
    std::size_t n;
    while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    const int st = p ? ::pclose(p) : -1;
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return text;
}

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

const Json* Json::find(const std::string& key) const {
    for (const auto& [k, v] : members)
        if (k == key) return &v;
    return nullptr;
}

namespace {
struct Parser {
    const std::string& s;
    std::size_t i = 0;
    [[noreturn]] void fail(const char* what) {
        throw std::runtime_error(std::string("JSON: ") + what + " at " + std::to_string(i) +
                                 " in " + s.substr(0, 200));
    }
    void ws() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;
    }
    void putUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::uint32_t hex4() {
        if (i + 4 > s.size()) fail("short escape");
        std::uint32_t v = static_cast<std::uint32_t>(std::stoul(s.substr(i, 4), nullptr, 16));
        i += 4;
        return v;
    }
    std::string str() {
        if (s[i] != '"') fail("expected string");
        ++i;
        std::string out;
        while (i < s.size() && s[i] != '"') {
            if (s[i] != '\\') {
                out += s[i++];
                continue;
            }
            ++i;
            if (i >= s.size()) fail("bad escape");
            char c = s[i++];
            switch (c) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                std::uint32_t cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && i + 6 <= s.size() && s[i] == '\\' &&
                    s[i + 1] == 'u') {
                    i += 2;
                    std::uint32_t lo = hex4();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                }
                putUtf8(out, cp);
                break;
            }
            default:
                out += c;
            }
        }
        if (i >= s.size()) fail("unterminated string");
        ++i;
        return out;
    }
    Json value() {
        ws();
        Json j;
        if (i >= s.size()) fail("unexpected end");
        if (s[i] == '{') {
            j.kind = Json::Kind::Object;
            ++i;
            ws();
            if (s[i] == '}') {
                ++i;
                return j;
            }
            while (true) {
                ws();
                std::string k = str();
                ws();
                if (s[i++] != ':') fail("expected colon");
                j.members.emplace_back(k, value());
                ws();
                if (s[i] == ',') {
                    ++i;
                    continue;
                }
                if (s[i] == '}') {
                    ++i;
                    return j;
                }
                fail("expected , or }");
            }
        }
        if (s[i] == '[') {
            j.kind = Json::Kind::Array;
            ++i;
            ws();
            if (s[i] == ']') {
                ++i;
                return j;
            }
            while (true) {
                j.items.push_back(value());
                ws();
                if (s[i] == ',') {
                    ++i;
                    continue;
                }
                if (s[i++] == ']') return j;
                fail("expected , or ]");
            }
        }
        if (s[i] == '"') {
            j.kind = Json::Kind::String;
            j.text = str();
            return j;
        }
        if (s.compare(i, 4, "null") == 0) {
            i += 4;
            return j;
        }
        if (s.compare(i, 4, "true") == 0) {
            i += 4;
            j.kind = Json::Kind::Bool;
            j.boolean = true;
            return j;
        }
        if (s.compare(i, 5, "false") == 0) {
            i += 5;
            j.kind = Json::Kind::Bool;
            return j;
        }
        std::size_t start = i;
        while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '-' ||
                                s[i] == '+' || s[i] == '.' || s[i] == 'e' || s[i] == 'E'))
            ++i;
        if (start == i) fail("unexpected character");
        j.kind = Json::Kind::Number;
        j.text = s.substr(start, i - start);
        j.number = std::strtod(j.text.c_str(), nullptr);
        return j;
    }
};
} // namespace

std::string canonicalJson(const Json& j) {
    std::string out;
    switch (j.kind) {
    case Json::Kind::Null:
        return "null";
    case Json::Kind::Bool:
        return j.boolean ? "true" : "false";
    case Json::Kind::Number:
        return j.text;
    case Json::Kind::String:
        // Only compared, never read back: quoting is enough.
        out = "\"";
        for (char c : j.text)
            out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
        return out + "\"";
    case Json::Kind::Array:
        out = "[";
        for (std::size_t k = 0; k < j.items.size(); ++k)
            out += (k ? "," : "") + canonicalJson(j.items[k]);
        return out + "]";
    case Json::Kind::Object: {
        auto members = j.members;
        std::sort(members.begin(), members.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        out = "{";
        for (std::size_t k = 0; k < members.size(); ++k)
            out += (k ? "," : "") +
                   canonicalJson(Json{Json::Kind::String, false, 0, members[k].first, {}, {}}) +
                   ":" + canonicalJson(members[k].second);
        return out + "}";
    }
    }
    return out;
}

Json parseJson(const std::string& line) {
    Parser p{line};
    Json j = p.value();
    p.ws();
    if (p.i != line.size()) p.fail("trailing characters");
    return j;
}

std::unique_ptr<ByteSource> unmappedSource(std::vector<std::uint8_t> bytes) {
    class Unmapped : public ByteSource {
    public:
        explicit Unmapped(std::vector<std::uint8_t> b) : bytes_(std::move(b)) {}
        std::uint64_t size() const override { return bytes_.size(); }
        void read(std::uint64_t offset, std::span<std::uint8_t> out) const override {
            if (offset > bytes_.size() || out.size() > bytes_.size() - offset)
                throw JetError("file", JetError::noPage, "short read");
            if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
        }

    private:
        std::vector<std::uint8_t> bytes_;
    };
    return std::make_unique<Unmapped>(std::move(bytes));
}

} // namespace tarnwick::jet::test
