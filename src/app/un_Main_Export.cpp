// placeholder, filled by its batch
#include "un_Main.h"

void Tfrm_main::btn_OutAllFilesClick() {}
void Tfrm_main::btn_OutFilesClick() {}
