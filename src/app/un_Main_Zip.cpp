// placeholder, filled by its batch
#include "un_Main.h"

void Tfrm_main::btn_ZipFolderClick() {}
void Tfrm_main::btn_ZipSelectedClick() {}
void Tfrm_main::btn_UnZipAllSelected_sameClick() {}
void Tfrm_main::btn_UnZipAllToSpecifiedClick() {}
void Tfrm_main::btn_UnZipSelectedToSpecifiedClick() {}
void Tfrm_main::btn_UnZipSelected_sameClick() {}
void Tfrm_main::OnZipProgressEvent(ZipArchive*, const std::string&, const ZipHeader&, std::int64_t) {}
void Tfrm_main::OnUnZipProgressEvent(ZipArchive*, const std::string&, const ZipHeader&, std::int64_t) {}
