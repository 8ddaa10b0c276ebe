// The Drive object store: everything a caller of the store needs.
#pragma once

#include "drive/drive_error.h"
#include "drive/drive_object.h"
#include "drive/drive_object_list.h"
#include "drive/drive_util.h"
#include "drive/drive_version.h"
