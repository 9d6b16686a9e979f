/* A library whose function is registered as an exit callback and which is
 * unloaded before the process ends. */
#include <stdio.h>

void ovx_stub_exit_callback(void) { fputs("stub callback\n", stderr); }
