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
        // Not counted by coverage: memory running out between loading and
        // saving, and a failure of no known kind, cannot be made on demand.
    } catch (const std::bad_alloc&) {          // GCOVR_EXCL_LINE
        return ReportFailure("out of memory"); // GCOVR_EXCL_LINE
    } catch (const std::exception& error) {
        return ReportFailure(error.what());
    } catch (...) {                                           // GCOVR_EXCL_LINE
        return ReportFailure("failed for an unknown reason"); // GCOVR_EXCL_LINE
    }
}
