#pragma once

// A registry of keys and typed values (REG_DWORD, REG_SZ) for the three roots the program uses.
// Each root is one human-readable text file under $XDG_CONFIG_HOME/Corvane/, written atomically
// (temporary file + rename) under a file lock and re-read before every write, so two processes
// can share it. Key names are case-insensitive and case-preserving; paths use "\" as separator.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quil::registry {

enum class Root { LocalMachine, CurrentUser, ClassesRoot };

enum class ValueType { Dword, String };

struct Value {
    std::string name;  // "" is the key's default value
    std::variant<uint32_t, std::string> data;
    ValueType Type() const { return data.index() == 0 ? ValueType::Dword : ValueType::String; }
};

class Key {
public:
    // Opens an existing key; nullopt when it does not exist.
    static std::optional<Key> Open(Root root, std::string_view path);
    // Opens the key, creating it and its parents as needed; nullopt when the store cannot be
    // written.
    static std::optional<Key> Create(Root root, std::string_view path);

    Root root() const { return root_; }
    const std::string& path() const { return path_; }

    // A value of another type than asked for reads as nullopt.
    std::optional<uint32_t> ReadDword(std::string_view name) const;
    std::optional<std::string> ReadString(std::string_view name) const;
    std::optional<Value> ReadValue(std::string_view name) const;

    bool WriteDword(std::string_view name, uint32_t value);
    bool WriteString(std::string_view name, std::string_view value);
    bool DeleteValue(std::string_view name);

    // Deletes a subkey and everything below it.
    bool DeleteSubKey(std::string_view relativePath);

    std::vector<std::string> SubKeyNames() const;
    std::vector<Value> Values() const;

    std::optional<Key> OpenSubKey(std::string_view relativePath) const;
    std::optional<Key> CreateSubKey(std::string_view relativePath) const;

private:
    Key(Root root, std::string path) : root_(root), path_(std::move(path)) {}
    Root root_;
    std::string path_;
};

// The file that holds a root (for diagnostics and tests).
std::string StorePath(Root root);

}  // namespace quil::registry
