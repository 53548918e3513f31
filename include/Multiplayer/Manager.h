#pragma once
// What the network resource manager needs of the element manager: placing the elements of a resource's map file.

class CElementChunk;
class CResource;

class CManager
{
public:
	CManager() = default;
	virtual ~CManager() = default;

	CManager(const CManager&) = delete;
	CManager& operator=(const CManager&) = delete;

	// Borrows the tree for the call. A manager without a factory places nothing and succeeds.
	virtual bool LoadMap(const CElementChunk* pMap, CResource* pResource)
	{
		(void)pMap;
		(void)pResource;
		return true;
	}
};
