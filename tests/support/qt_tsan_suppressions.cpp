// Qt is not built with ThreadSanitizer: its image thread pool (used when
// painting views and message boxes) allocates, copies and frees through its own
// futex-based locks, which TSan cannot see. Only the allocator and memory calls
// made from inside Qt's libraries are ignored; every access made by our code,
// on either thread, is still checked. (The executable exports this hook.)
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n";
}
