// placeholder, filled by its batch
#include "un_Main.h"

void Tfrm_main::btn_ChangeAllFileNameClick() {}
void Tfrm_main::btn_ChangeSelectedNameClick() {}
