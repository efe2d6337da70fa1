// keyboard-picture: draws "zzOut.bmp", a JIS keyboard stamped from the key
// cap in "key.bmp". Takes no arguments; prints only on failure.

#include "ComposeKeyboardPicture.h"

#include <cstdio>
#include <exception>
#include <new>

namespace {

int ReportFailure(const char* what)
{
    std::fprintf(stderr, "keyboard-picture: %s\n", what);
    return 1;
}

} // namespace

int main()
{
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
