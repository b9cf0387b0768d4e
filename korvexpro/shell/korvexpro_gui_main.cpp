// korvexpro-gui: the desktop program.

#include "shell/korvexpro_app.h"

int main(int argc, char** argv) {
  Kvx::CKorvexProApp app;
  return app.Run(argc, argv);
}
