// SPDX-License-Identifier: MIT
#include "Words.h"

#include <cstdlib>

namespace Words {

std::string Fill(std::string_view format, const std::vector<std::string>& args)
{
    const auto isDigit = [&format](std::size_t at) {
        return at < format.size() && format[at] >= '0' && format[at] <= '9';
    };
    std::string text;
    std::size_t next = 0;
    for (std::size_t at = 0; at < format.size(); ++at) {
        if (format[at] == '%' && at + 1 < format.size()) {
            std::size_t index = next;
            std::size_t end = at + 1;
            std::size_t digits = end;
            while (isDigit(digits)) {
                ++digits;
            }
            if (digits > end && digits + 1 < format.size() && format[digits] == '$') {
                index = std::strtoul(std::string(format.substr(end, digits - end)).c_str(), nullptr, 10) - 1;
                end = digits + 1;
            }
            if (format[end] == 's') {
                next += end == at + 1 ? 1 : 0;
                text += index < args.size() ? args[index] : std::string();
                at = end;
                continue;
            }
            if (format[end] == '%') {
                text += '%';
                at = end;
                continue;
            }
        }
        text += format[at];
    }
    return text;
}

std::string Say(const Message& message, Translator translate)
{
    const auto inLanguage = [translate](const char* text) {
        return translate == nullptr || *text == '\0' ? text : translate(text);
    };
    std::vector<std::string> args;
    args.reserve(message.args.size());
    for (const std::string& arg : message.args) {
        args.emplace_back(inLanguage(arg.c_str()));
    }
    std::string line = Fill(inLanguage(message.format), args);
    if (!message.file.empty()) {
        // TRANSLATORS: a file's name, then what is wrong with it.
        line = Fill(inLanguage(N_("%1$s: %2$s")), {message.file, line});
    }
    return line;
}

} // namespace Words
