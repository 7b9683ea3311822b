/* Wayfolio document database. Run by scripts/create-db after CREATE DATABASE.
   Text columns use character set NONE: pages arrive in many encodings and the
   program stores their bytes exactly as received. */

CREATE SEQUENCE NODE_ID;

/* TITLE and ORIG_URL are sized for real titles and addresses, no larger: listing a
   document's children sorts whole rows, and the engine pads each variable-length
   column to its declared size in the sort. */
CREATE TABLE NODE (
    NODE_ID       INTEGER NOT NULL,
    TITLE         VARCHAR(1000) CHARACTER SET NONE,
    ORIG_URL      VARCHAR(2000) CHARACTER SET NONE,
    ORIG_ID       VARCHAR(1000) CHARACTER SET NONE,
    GUIDE_TYPE    VARCHAR(40) CHARACTER SET NONE,
    READ_CONTENT  CHAR(1) CHARACTER SET NONE DEFAULT 'Y',
    BODY          BLOB SUB_TYPE TEXT CHARACTER SET NONE,
    HEAD          BLOB SUB_TYPE TEXT CHARACTER SET NONE,
    ENCODING      VARCHAR(100) CHARACTER SET NONE,
    STAMP_UPDATED TIMESTAMP,
    CONSTRAINT PK_NODE PRIMARY KEY (NODE_ID),
    /* A document is identified on its site by ORIG_ID within its guide type. */
    CONSTRAINT UQ_NODE_ORIG UNIQUE (ORIG_ID, GUIDE_TYPE)
);

CREATE TABLE MASTER_DETAIL (
    MASTER_ID INTEGER NOT NULL,  /* 0 is the root "All guides", which has no NODE row */
    DETAIL_ID INTEGER NOT NULL,
    ORDER_    INTEGER,
    CONSTRAINT PK_MASTER_DETAIL PRIMARY KEY (MASTER_ID, DETAIL_ID),
    CONSTRAINT FK_MASTER_DETAIL_NODE FOREIGN KEY (DETAIL_ID) REFERENCES NODE (NODE_ID)
        ON DELETE CASCADE
);

CREATE INDEX IX_MASTER_DETAIL_ORDER ON MASTER_DETAIL (MASTER_ID, ORDER_);
CREATE INDEX IX_MASTER_DETAIL_DETAIL ON MASTER_DETAIL (DETAIL_ID);

SET TERM ^ ;
/* A deleted document takes its outgoing links with it; its children stay
   wherever else they are linked. */
CREATE TRIGGER NODE_AD FOR NODE AFTER DELETE AS
BEGIN
    DELETE FROM MASTER_DETAIL WHERE MASTER_ID = OLD.NODE_ID;
END^
SET TERM ; ^

CREATE TABLE TEMPLATE (
    GUIDE_TYPE VARCHAR(40) CHARACTER SET NONE NOT NULL,
    KIND       VARCHAR(20) CHARACTER SET NONE NOT NULL,
    TEXT       BLOB SUB_TYPE TEXT CHARACTER SET NONE
);

CREATE INDEX IX_TEMPLATE_KIND ON TEMPLATE (KIND, GUIDE_TYPE);

COMMIT;
