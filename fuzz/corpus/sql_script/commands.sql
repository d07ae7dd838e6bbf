:setvar db "Archive"
USE $(db)
GO 2
:r other.sql
EXIT(SELECT 1)
