// SPDX-License-Identifier: MIT
// A scratch folder that tests run in and that disappears with them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

class TestFolder {
public:
    // `name` may be any UTF-8 text, so that tests can use names that are not ASCII.
    explicit TestFolder(const std::string& name = "")
    {
        std::random_device random;
        const std::filesystem::path parent = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string leaf = "keyboard-picture-test-" + std::to_string(random()) + "-" + name;
            const std::filesystem::path candidate =
                parent / std::filesystem::path(std::u8string(leaf.begin(), leaf.end()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot make a scratch folder in " + parent.string());
    }
    ~TestFolder()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Names are UTF-8 on every system, as the tool's own paths are.
    std::filesystem::path operator/(const std::string& name) const
    {
        return path_ / std::filesystem::path(std::u8string(name.begin(), name.end()));
    }
    static std::string Utf8(const std::filesystem::path& path)
    {
        const std::u8string text = path.u8string();
        return {text.begin(), text.end()};
    }

    void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        std::ofstream out(*this / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + Utf8(*this / name));
        }
    }

    std::vector<std::uint8_t> Read(const std::string& name) const { return ReadFile(*this / name); }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(Utf8(entry.path().filename()));
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::filesystem::path path_;
};

} // namespace TestSupport
