// Holds the precompiled GoogleTest header the test programs reuse; it has no
// tests of its own (gtest_main runs none).
