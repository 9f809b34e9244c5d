// The dialogs that the program creates at start.
#pragma once

#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormComment.h"
#include "app/lib/FormEditComments.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormInput.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormRunFile.h"
#include "app/lib/FormSeedKeys.h"
#include "app/lib/FormSplitArchive.h"
#include "app/lib/FormTestArchive.h"
#include "app/lib/FormUUEncode.h"
