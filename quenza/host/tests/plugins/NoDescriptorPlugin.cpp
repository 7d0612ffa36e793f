// A library that loads but exports no descriptor.

extern "C" __attribute__((visibility("default"))) int quenzaTestNothingHere()
{
    return 0;
}
