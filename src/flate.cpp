/*
 * DEFLATE encoder and raw DEFLATE decoder.
 */
#include "flate.h"
