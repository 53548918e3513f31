#pragma once
// What the natives of elements and clients share: the checks of their receivers and arguments against the
// replication manager's script classes "Element" and "Client". A check that fails has reported the standard error
// through the native call state; an object that merely carries the class (a plug-in module can give any object
// one) fails like an object of another class.

#include <cstddef>

class CNativeState;
class CNetMachine;
class INetMachine;
class CNetObject;
class CNetObjectMgr;
class ReflectedClass;

namespace NetObjectFunctions
{
// The receiver, or null after "'this' is null" or "%s expected for 'this'".
CNetObject* GetThisElement(CNativeState* pState, CNetObjectMgr* pManager);
CNetMachine* GetThisClient(CNativeState* pState, CNetObjectMgr* pManager);

// The argument at Index; with bAllowNull null and undefined pass and give null. False after "Expected %s for
// argument %d" with the class name.
bool CheckElement(CNativeState* pState, CNetObjectMgr* pManager, size_t Index, bool bAllowNull, CNetObject** ppElement);
bool CheckClient(CNativeState* pState, CNetObjectMgr* pManager, size_t Index, bool bAllowNull, CNetMachine** ppClient);

// The client as a script value; null for none.
void ReturnClient(CNativeState* pState, INetMachine* pClient);

// The members of each class, in the order scripts' documentation lists them. Every native gets the manager as
// its user data.
void RegisterClientMembers(ReflectedClass* pClass, CNetObjectMgr* pManager);
void RegisterElementMembers(ReflectedClass* pClass, CNetObjectMgr* pManager);
void RegisterNetObjectFlagsMembers(ReflectedClass* pClass, CNetObjectMgr* pManager);
}
