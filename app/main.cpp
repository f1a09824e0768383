#include "app/job.h"
#include "console/console.h"

int main() {
  int status = RunJob();
  EndProgram(status);
}
