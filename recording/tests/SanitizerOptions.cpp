// Linked into the test programs that run GStreamer. In AddressSanitizer builds, leak reports need
// full stacks: GLib is built without frame pointers, so the fast unwinder stops inside it and the
// leak suppressions (scripts/lsan.supp) could not tell GLib's intentional start-up allocations
// from ours. Other builds ignore these functions.

extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
