/* Stands in for quorvex.exe when the example batch file is tested: exits
   with the number given as the /M value, so every errorlevel, the added-up
   ones included, can be fed to the batch file's branches. */
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], "/M") == 0) return atoi(argv[i + 1]);
  }
  return 0;
}
