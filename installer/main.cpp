#include "installer/installer.h"

int main(int argc, char** argv) { return qv::RunInstaller(argc, argv); }
