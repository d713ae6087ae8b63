// DES block cipher and file and text encryption.
#pragma once
