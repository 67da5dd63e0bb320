// The programming engine as one include: the programming run and the BCCMD messages it sends.
#pragma once

#include "psconfig/bccmd.h"
#include "psconfig/programming_run.h"
