// Defaults for the sanitizers, compiled into every test program so that they hold however the
// test is started (ctest, by hand, under a debugger).
//
// Qt, fontconfig and the X libraries keep some allocations for the life of the process; they
// are not the program's leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libQt6Core\n"
           "leak:libQt6Widgets\n"
           "leak:libdbus\n"
           "leak:libglib\n";
}
