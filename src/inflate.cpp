/*
 * zlib decoder for object streams and PNG row predictors.
 */
#include "inflate.h"
