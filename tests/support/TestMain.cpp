// The entry of every test program. Before anything else it leaves a mark
// that the program started (in the file QM_TEST_STARTED names), so that the
// bench can tell a program that never started from one that failed.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  if (const char *mark = getenv("QM_TEST_STARTED")) {
    if (FILE *f = fopen(mark, "wb")) {
      fputs("started\n", f);
      fclose(f);
    }
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
