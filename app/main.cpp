// SPDX-License-Identifier: MIT
// keyboard-picture: draws "zzOut.bmp", a JIS keyboard stamped from the key
// cap in "key.bmp". Takes no arguments; prints only on failure.

#include "ComposeKeyboardPicture.h"

#include "Platform.h"
#include "Words.h"

#include <exception>
#include <new>
#include <string>

namespace {

int ReportFailure(const Words::Message& message)
{
    Platform::WriteErrorLine("keyboard-picture: " + Words::Say(message, Platform::Translate));
    Platform::KeepConsoleOpen(Words::Say({N_("Press any key to close this window . . .")}, Platform::Translate));
    return 1;
}

} // namespace

int main()
{
    Platform::PrepareProcess();
    try {
        return ComposeKeyboardPicture();
        // Not counted by coverage: memory running out between loading and
        // saving, and failures not of the tool's own kinds, cannot be made
        // on demand, so neither they nor the choosing between handlers is.
        // GCOVR_EXCL_START
    } catch (const Words::Failure& failure) {
        return ReportFailure(failure.Words());
    } catch (const std::bad_alloc&) {
        return ReportFailure({N_("out of memory")});
    } catch (const std::exception& error) {
        return ReportFailure({"%s", {error.what()}});
    } catch (...) {
        return ReportFailure({N_("failed for an unknown reason")});
    }
    // GCOVR_EXCL_STOP
}
