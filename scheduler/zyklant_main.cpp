#include "scheduler/service_shell.h"

int main() { return scheduler::zyklantMain(); }
