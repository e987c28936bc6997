#include "checker/cron_check.h"

int main(int argc, char** argv) { return checker::cronCheckMain(argc, argv); }
