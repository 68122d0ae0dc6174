// The MAPI access layer in one include: owning wrappers over the session,
// stores, folders, containers, tables and property values, CMAPIException
// and the error names.
#pragma once

#include "InterfaceRef.h"
#include "MapiBuffer.h"
#include "MapiException.h"
#include "MapiBinary.h"
#include "MapiPropValue.h"
#include "MapiPropPtr.h"
#include "MapiContPtr.h"
#include "MsgStorePtr.h"
#include "MapiSession.h"
#include "MapiRowSet.h"
