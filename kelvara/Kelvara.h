// Kelvara: the whole public interface in one include.
#pragma once

#include "kelvara/framework/Archive.h"
#include "kelvara/framework/Array.h"
#include "kelvara/framework/DateTime.h"
#include "kelvara/framework/File.h"
#include "kelvara/framework/List.h"
#include "kelvara/framework/Object.h"
#include "kelvara/framework/Resource.h"
#include "kelvara/framework/String.h"
#include "kelvara/framework/Sync.h"
#include "kelvara/framework/Types.h"
#include "kelvara/framework/Ui.h"
#include "kelvara/location/QZLocation.h"
#include "kelvara/resources/StringTable.h"
#include "kelvara/sibling/QZObject.h"
#include "kelvara/sibling/Utility.h"
