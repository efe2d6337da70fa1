// SPDX-License-Identifier: MIT
// keyboard-picture: draws "zzOut.bmp", a JIS keyboard stamped from the key
// cap in "key.bmp". Takes no arguments; prints only on failure.

#include "ComposeKeyboardPicture.h"

#include "Platform.h"

#include <exception>
#include <new>
#include <string>

namespace {

int ReportFailure(const char* what)
{
    Platform::WriteErrorLine(std::string("keyboard-picture: ") + what);
    return 1;
}

} // namespace

int main()
{
    Platform::PrepareProcess();
    try {
        return ComposeKeyboardPicture();
    } catch (const std::bad_alloc&) {
        return ReportFailure("out of memory");
    } catch (const std::exception& error) {
        return ReportFailure(error.what());
    } catch (...) {
        return ReportFailure("failed for an unknown reason");
    }
}
