// The framework's control classes, shell and visual managers in one include.
#pragma once

#include "afxcmn.h"
#include "afxeditbrowsectrl.h"
#include "afxshellmanager.h"
#include "afxvisualmanager.h"
