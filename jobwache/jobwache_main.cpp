#include "jobwache/jobwache.h"

int main(int argc, char** argv) { return jobwache::jobwacheMain(argc, argv); }
