#include "scheduler/job_start.h"
