// The resource-script compiler behind rccompile: the subset of Windows
// resource-script syntax that spinstall's script uses, compiled into a
// standard 32-bit resource file image, the same bytes windres -O res writes.
//
// Supported: // and /* */ comments; #pragma code_page(65001); LANGUAGE p, s;
// STRINGTABLE BEGIN id "text" ... END (or { }); id-or-name type "file" for
// user-defined resources. Numbers are decimal or 0x hexadecimal.
#include "tools/rc_compiler.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Key {
    std::u16string name;  // empty: the id is used
    std::uint16_t id = 0;
};

struct Resource {
    Key type;
    Key name;
    std::uint16_t language = 0;
    std::vector<std::uint8_t> data;
};

struct Token {
    enum Kind { Word, Number, String, Punct, End } kind = End;
    std::string text;      // words, numbers and punctuation
    std::u16string value;  // strings, decoded
    std::uint32_t number = 0;
    int line = 0;
};

// A script error; thrown inside the compiler and turned into its result.
struct CompileError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, int line, const std::string& message) {
    throw CompileError{where + ":" + std::to_string(line) + ": error: " + message};
}

std::u16string Utf8ToUtf16(const std::string& text, const std::string& where, int line) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) {
            Fail(where, line, "invalid UTF-8 in string");
        }
        std::uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                Fail(where, line, "invalid UTF-8 in string");
            }
            code = (code << 6) | (next & 0x3F);
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

class Lexer {
public:
    Lexer(std::string source, std::string where) : source_(std::move(source)), where_(std::move(where)) {}

    Token Next() {
        SkipSpaceAndComments();
        Token token;
        token.line = line_;
        if (position_ >= source_.size()) {
            return token;
        }
        const char c = source_[position_];
        if (c == '#' && atLineStart_) {
            token.kind = Token::Word;
            const std::size_t end = source_.find('\n', position_);
            token.text = source_.substr(position_, end == std::string::npos ? std::string::npos : end - position_);
            position_ = end == std::string::npos ? source_.size() : end;
            while (!token.text.empty() && (token.text.back() == '\r' || token.text.back() == ' ')) {
                token.text.pop_back();
            }
            return token;
        }
        atLineStart_ = false;
        if (c == '"' || ((c == 'L' || c == 'l') && position_ + 1 < source_.size() && source_[position_ + 1] == '"')) {
            if (c != '"') {
                ++position_;
            }
            token.kind = Token::String;
            token.value = ReadString();
            return token;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            token.kind = Token::Number;
            std::size_t end = position_;
            while (end < source_.size() && std::isalnum(static_cast<unsigned char>(source_[end])) != 0) {
                ++end;
            }
            token.text = source_.substr(position_, end - position_);
            position_ = end;
            std::string digits = token.text;
            if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l')) {
                digits.pop_back();
            }
            std::size_t used = 0;
            try {
                token.number = static_cast<std::uint32_t>(std::stoul(digits, &used, 0));
            } catch (...) {
                used = 0;
            }
            if (used != digits.size() || digits.empty()) {
                Fail(where_, line_, "bad number '" + token.text + "'");
            }
            return token;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_') {
            token.kind = Token::Word;
            std::size_t end = position_;
            while (end < source_.size() &&
                   (std::isalnum(static_cast<unsigned char>(source_[end])) != 0 || source_[end] == '_')) {
                ++end;
            }
            token.text = source_.substr(position_, end - position_);
            position_ = end;
            return token;
        }
        token.kind = Token::Punct;
        token.text = std::string(1, c);
        ++position_;
        return token;
    }

private:
    void SkipSpaceAndComments() {
        while (position_ < source_.size()) {
            const char c = source_[position_];
            if (c == '\n') {
                ++line_;
                ++position_;
                atLineStart_ = true;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++position_;
            } else if (source_.compare(position_, 2, "//") == 0) {
                while (position_ < source_.size() && source_[position_] != '\n') {
                    ++position_;
                }
            } else if (source_.compare(position_, 2, "/*") == 0) {
                const std::size_t end = source_.find("*/", position_ + 2);
                if (end == std::string::npos) {
                    Fail(where_, line_, "unterminated comment");
                }
                line_ += static_cast<int>(std::count(source_.begin() + static_cast<std::ptrdiff_t>(position_),
                                                     source_.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
                position_ = end + 2;
            } else {
                break;
            }
        }
    }

    std::u16string ReadString() {
        ++position_;  // opening quote
        std::string bytes;
        std::u16string result;
        auto flush = [&] {
            result += Utf8ToUtf16(bytes, where_, line_);
            bytes.clear();
        };
        while (true) {
            if (position_ >= source_.size() || source_[position_] == '\n') {
                Fail(where_, line_, "unterminated string");
            }
            const char c = source_[position_++];
            if (c == '"') {
                if (position_ < source_.size() && source_[position_] == '"') {
                    bytes.push_back('"');
                    ++position_;
                    continue;
                }
                break;
            }
            if (c != '\\') {
                bytes.push_back(c);
                continue;
            }
            if (position_ >= source_.size()) {
                Fail(where_, line_, "unterminated string");
            }
            const char e = source_[position_++];
            switch (e) {
                case 'n': bytes.push_back('\n'); break;
                case 't': bytes.push_back('\t'); break;
                case 'r': bytes.push_back('\r'); break;
                case 'a': bytes.push_back('\a'); break;
                case '\\': bytes.push_back('\\'); break;
                case '"': bytes.push_back('"'); break;
                case 'x': {
                    std::size_t end = position_;
                    while (end < source_.size() && end - position_ < 4 &&
                           std::isxdigit(static_cast<unsigned char>(source_[end])) != 0) {
                        ++end;
                    }
                    if (end == position_) {
                        Fail(where_, line_, "\\x without hex digits");
                    }
                    flush();
                    result.push_back(static_cast<char16_t>(std::stoul(source_.substr(position_, end - position_), nullptr, 16)));
                    position_ = end;
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        std::size_t end = position_ - 1;
                        while (end < source_.size() && end - (position_ - 1) < 3 && source_[end] >= '0' &&
                               source_[end] <= '7') {
                            ++end;
                        }
                        flush();
                        result.push_back(static_cast<char16_t>(
                            std::stoul(source_.substr(position_ - 1, end - (position_ - 1)), nullptr, 8)));
                        position_ = end;
                    } else {
                        Fail(where_, line_, std::string("unknown escape \\") + e);
                    }
            }
        }
        flush();
        return result;
    }

    std::string source_;
    std::string where_;
    std::size_t position_ = 0;
    int line_ = 1;
    bool atLineStart_ = true;
};

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void PutKey(std::vector<std::uint8_t>& out, const Key& key) {
    if (key.name.empty()) {
        Put16(out, 0xFFFF);
        Put16(out, key.id);
    } else {
        for (char16_t c : key.name) {
            Put16(out, c);
        }
        Put16(out, 0);
    }
}

void Align4(std::vector<std::uint8_t>& out) {
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

// The order windres writes: named before numbered, names by their text,
// numbers ascending; then by name the same way; then by language.
bool KeyLess(const Key& a, const Key& b) {
    if (a.name.empty() != b.name.empty()) {
        return !a.name.empty();
    }
    return a.name.empty() ? a.id < b.id : a.name < b.name;
}

std::optional<std::vector<std::uint8_t>> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> CompileOrThrow(const std::string& source, const std::string& where,
                                         const std::vector<std::string>& includeDirs) {
    Lexer lexer(source, where);
    std::vector<Resource> resources;
    // Strings by language and id.
    std::map<std::uint16_t, std::map<std::uint16_t, std::u16string>> strings;
    std::uint16_t language = 0;

    auto expect = [&](Token::Kind kind, const char* what) {
        Token token = lexer.Next();
        if (token.kind != kind) {
            Fail(where, token.line, std::string("expected ") + what);
        }
        return token;
    };

    for (Token token = lexer.Next(); token.kind != Token::End; token = lexer.Next()) {
        if (token.kind == Token::Word && token.text[0] == '#') {
            std::string directive = token.text;
            directive.erase(std::remove(directive.begin(), directive.end(), ' '), directive.end());
            if (directive == "#pragmacode_page(65001)") {
                continue;
            }
            Fail(where, token.line, "unsupported directive '" + token.text + "' (only #pragma code_page(65001))");
        }
        if (token.kind == Token::Word && Upper(token.text) == "LANGUAGE") {
            const Token primary = expect(Token::Number, "a primary language number");
            const Token comma = lexer.Next();
            if (comma.kind != Token::Punct || comma.text != ",") {
                Fail(where, comma.line, "expected ',' in LANGUAGE");
            }
            const Token sub = expect(Token::Number, "a sublanguage number");
            if (primary.number > 0x3FF || sub.number > 0x3F) {
                Fail(where, sub.line, "LANGUAGE values out of range");
            }
            language = static_cast<std::uint16_t>((sub.number << 10) | primary.number);
            continue;
        }
        if (token.kind == Token::Word && Upper(token.text) == "STRINGTABLE") {
            Token open = lexer.Next();
            while (open.kind == Token::Word && Upper(open.text) != "BEGIN") {
                open = lexer.Next();  // memory options such as DISCARDABLE
            }
            if (!((open.kind == Token::Word && Upper(open.text) == "BEGIN") ||
                  (open.kind == Token::Punct && open.text == "{"))) {
                Fail(where, open.line, "expected BEGIN after STRINGTABLE");
            }
            while (true) {
                Token entry = lexer.Next();
                if ((entry.kind == Token::Word && Upper(entry.text) == "END") ||
                    (entry.kind == Token::Punct && entry.text == "}")) {
                    break;
                }
                if (entry.kind != Token::Number) {
                    Fail(where, entry.line, "expected a string id or END");
                }
                if (entry.number > 0xFFFF) {
                    Fail(where, entry.line, "string id out of range");
                }
                Token text = lexer.Next();
                if (text.kind == Token::Punct && text.text == ",") {
                    text = lexer.Next();
                }
                if (text.kind != Token::String) {
                    Fail(where, text.line, "expected a string");
                }
                if (text.value.size() > 0xFFFF) {
                    Fail(where, text.line, "string too long");
                }
                auto& table = strings[language];
                if (!table.emplace(static_cast<std::uint16_t>(entry.number), text.value).second) {
                    Fail(where, entry.line, "string id " + std::to_string(entry.number) + " defined twice");
                }
            }
            continue;
        }
        if (token.kind == Token::Word || token.kind == Token::Number) {
            Resource resource;
            resource.language = language;
            if (token.kind == Token::Number) {
                if (token.number > 0xFFFF) {
                    Fail(where, token.line, "resource id out of range");
                }
                resource.name.id = static_cast<std::uint16_t>(token.number);
            } else {
                resource.name.name = Widen(Upper(token.text));
            }
            const Token type = lexer.Next();
            if (type.kind == Token::Number) {
                if (type.number > 0xFFFF) {
                    Fail(where, type.line, "resource type out of range");
                }
                resource.type.id = static_cast<std::uint16_t>(type.number);
            } else if (type.kind == Token::Word && type.text[0] != '#') {
                resource.type.name = Widen(Upper(type.text));
            } else {
                Fail(where, type.line, "expected a resource type");
            }
            const Token file = expect(Token::String, "a file name");
            std::string fileName(file.value.begin(), file.value.end());
            std::optional<std::vector<std::uint8_t>> data;
            for (const auto& dir : includeDirs) {
                data = ReadFile(fileName[0] == '/' ? fileName : dir + "/" + fileName);
                if (data) {
                    break;
                }
            }
            if (!data) {
                Fail(where, file.line, "cannot find resource file '" + fileName + "'");
            }
            resource.data = std::move(*data);
            resources.push_back(std::move(resource));
            continue;
        }
        Fail(where, token.line, "unexpected '" + token.text + "'");
    }

    // String tables become blocks of 16 counted strings, block n holding ids 16(n-1) to 16n-1.
    for (const auto& [stringLanguage, table] : strings) {
        std::map<std::uint16_t, std::vector<std::uint8_t>> blocks;
        for (const auto& [id, text] : table) {
            (void)text;
            const auto blockId = static_cast<std::uint16_t>((id >> 4) + 1);
            if (blocks.count(blockId) != 0) {
                continue;
            }
            std::vector<std::uint8_t> block;
            for (unsigned index = 0; index < 16; ++index) {
                const auto found = table.find(static_cast<std::uint16_t>(((blockId - 1) << 4) + index));
                const std::u16string empty;
                const std::u16string& value = found == table.end() ? empty : found->second;
                Put16(block, static_cast<std::uint16_t>(value.size()));
                for (char16_t c : value) {
                    Put16(block, c);
                }
            }
            blocks.emplace(blockId, std::move(block));
        }
        for (auto& [blockId, block] : blocks) {
            Resource resource;
            resource.type.id = 6;
            resource.name.id = blockId;
            resource.language = stringLanguage;
            resource.data = std::move(block);
            resources.push_back(std::move(resource));
        }
    }

    std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        if (KeyLess(a.type, b.type) || KeyLess(b.type, a.type)) {
            return KeyLess(a.type, b.type);
        }
        if (KeyLess(a.name, b.name) || KeyLess(b.name, a.name)) {
            return KeyLess(a.name, b.name);
        }
        return a.language < b.language;
    });
    for (std::size_t i = 1; i < resources.size(); ++i) {
        const Resource& a = resources[i - 1];
        const Resource& b = resources[i];
        if (!KeyLess(a.type, b.type) && !KeyLess(a.name, b.name) && a.language == b.language) {
            Fail(where, 0, "a resource is defined twice for one language");
        }
    }

    std::vector<std::uint8_t> image;
    // The leading empty entry that marks a 32-bit resource file.
    Put32(image, 0);
    Put32(image, 32);
    PutKey(image, Key{{}, 0});
    PutKey(image, Key{{}, 0});
    for (int k = 0; k < 4; ++k) {
        Put32(image, 0);
    }
    for (const auto& resource : resources) {
        std::vector<std::uint8_t> header;
        PutKey(header, resource.type);
        PutKey(header, resource.name);
        Align4(header);
        Put32(header, 0);       // data version
        Put16(header, 0x1030);  // memory flags: moveable, pure, discardable
        Put16(header, resource.language);
        Put32(header, 0);  // version
        Put32(header, 0);  // characteristics
        Put32(image, static_cast<std::uint32_t>(resource.data.size()));
        Put32(image, static_cast<std::uint32_t>(header.size() + 8));
        image.insert(image.end(), header.begin(), header.end());
        image.insert(image.end(), resource.data.begin(), resource.data.end());
        Align4(image);
    }

    return image;
}

}  // namespace

bool CompileResourceScript(const std::string& source, const std::string& where,
                           const std::vector<std::string>& includeDirs, std::vector<std::uint8_t>& image,
                           std::string& error) {
    try {
        image = CompileOrThrow(source, where, includeDirs);
        return true;
    } catch (const CompileError& failure) {
        error = failure.message;
        return false;
    }
}
