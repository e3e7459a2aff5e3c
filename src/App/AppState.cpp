#include "App/AppState.h"
