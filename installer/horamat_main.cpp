#include "installer/installer_cli.h"

int main(int argc, char** argv) { return installer::installerMain(argc, argv); }
