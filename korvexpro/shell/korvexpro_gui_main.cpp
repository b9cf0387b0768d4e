// korvexpro-gui: the desktop program.

#include "shell/korvexpro_app.h"
#include "shell/process_tuning.h"

int main(int argc, char** argv) {
  Kvx::TuneProcessForBatches();
  Kvx::CKorvexProApp app;
  return app.Run(argc, argv);
}
