an entry named like the cleanup script
