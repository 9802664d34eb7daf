extern "C" __attribute__((visibility("default"))) int TestModuleAnswer() { return 42; }
