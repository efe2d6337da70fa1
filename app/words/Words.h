// SPDX-License-Identifier: MIT
// The tool's words: each message written once, in English, as a whole
// sentence with numbered places for what varies ("%1$s", "%2$s"), so that
// a translator may put them in any order; shown in the user's language
// only when it is shown. po/keyboard-picture.pot collects them.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Marks a message where it is written, so that xgettext finds it; it stays
// as written.
#define N_(text) text

namespace Words {

// A message, what fills its places, and the file it concerns, if any,
// which goes before it: "key.bmp: file is empty".
struct Message {
    Message(const char* text, std::vector<std::string> places = {}, std::string about = {})
        : format(text), args(std::move(places)), file(std::move(about))
    {
    }

    const char* format;
    std::vector<std::string> args;
    std::string file;
};

// A message's translation, or the message itself where there is none.
using Translator = const char* (*)(const char* message);

// `format` with "%N$s" replaced by argument N, each "%s" by the next one,
// and "%%" by "%". A place with no argument stays empty.
std::string Fill(std::string_view format, const std::vector<std::string>& args);

// The message as one line in the language `translate` gives, or in English.
// What fills its places is looked up too, for the words among it that have
// translations of their own (a colour's name, say).
std::string Say(const Message& message, Translator translate = nullptr);

// A failure that reports in the tool's words: what() is the English line,
// Words() what to say in another language.
class Failure : public std::runtime_error {
public:
    explicit Failure(Message message) : std::runtime_error(Say(message)), message_(std::move(message)) {}
    const Message& Words() const { return message_; }

private:
    Message message_;
};

// The Japanese catalogue, compiled in from po/ja.po, for the systems that
// have no gettext (Windows, the browser).
const char* Japanese(const char* message);

} // namespace Words
