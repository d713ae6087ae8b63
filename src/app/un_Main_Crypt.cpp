// placeholder, filled by its batch
#include "un_Main.h"

void Tfrm_main::btn_EncryptSelectedFilesClick() {}
void Tfrm_main::btn_EncryptFoldersClick() {}
void Tfrm_main::btn_DECryptSelectedClick() {}
void Tfrm_main::btn_DECrypt_ALlClick() {}
