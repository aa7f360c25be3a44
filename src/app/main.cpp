// kivlog: decodes the firmware log records of a raw host log against the firmware images.
#include "app/KivMain.h"

int main(int argc, char** argv) {
  return kivlogMain(argc, argv);
}
