#include "Engine/KestrinReference.h"

intptr_t CRefCounted::Release()
{
	return ReleaseCounted();
}
