// A shared object that loads but lacks the conversion entry.
extern "C" __attribute__((visibility("default"))) int ConvertToYUY2() {
    return 0;
}
