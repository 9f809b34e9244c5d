// Pictures of the kinds of backup targets, drawn by the program itself at any size: the target
// menu's item images and the target picture of the main window.
#pragma once

#include "platform/vcl/ComCtrls.h"

enum TDriveIcon { diFloppy, diCd, diFixed, diNetwork, diOther, diFtp, diRamDisk, diRemovable };

// A size x size picture, see-through where it is white.
vcl::TBitmap DriveIcon(TDriveIcon kind, int size);

// The image numbers the target menu's lines use: 0 diskette, 1 CD, 2 local disk, 3 network,
// 7 RAM disk, 8 removable, 9 other, 10 FTP (the unused 4 to 6 show "other").
void FillTargetMenuImages(vcl::TImageList& images);
// The target picture's numbers: 0 diskette, 1 CD, 2 local disk, 3 network, 4 other, 5 FTP.
void FillTargetPictures(vcl::TImageList& images);
