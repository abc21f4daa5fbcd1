-- The product database that the end-to-end runs patch. Organism 1 has test values that make its
-- pattern frequency depend on every kind of step: a low percentage (GGT 10), a high one that is
-- not 100 (GLU 90), and the two tests that the patch changes (PRO and RES, both 100 here).
-- With PRO 98 and RES 4 its frequency is 0.9 x 0.98 x 0.96 x 0.9, stored as 0.762048.

CREATE TABLE NHBASE (
    ID       INTEGER PRIMARY KEY,
    Organism VARCHAR(60) NOT NULL,
    PEN      SMALLINT,
    GGT      SMALLINT,
    IND      SMALLINT,
    PRO      SMALLINT,
    PHS      SMALLINT,
    URE      SMALLINT,
    ONPG     SMALLINT,
    RES      SMALLINT,
    GLU      SMALLINT,
    MAL      SMALLINT,
    SUC      SMALLINT,
    FRU      SMALLINT,
    MLF      DOUBLE
);

INSERT INTO NHBASE VALUES (1, 'Neisseria gonorrhoeae',  0, 10, 0, 100, 0, 0, 0, 100, 90, 0, 0, 0, 0.81);
INSERT INTO NHBASE VALUES (2, 'Neisseria meningitidis', 0, 99, 0, 100, 0, 0, 0, 0, 100, 100, 0, 0, 0.99);
INSERT INTO NHBASE VALUES (3, 'Moraxella catarrhalis',  0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 1);

CREATE TABLE Panels (
    panelcode   VARCHAR(4) NOT NULL,
    lastupdated DATE,
    DBVersion   VARCHAR(10)
);

INSERT INTO Panels VALUES ('NF', '2007-06-12', '2.07');
INSERT INTO Panels VALUES ('NH', '2007-09-03', '2.07');
INSERT INTO Panels VALUES ('AN', '2007-06-12', '2.07');

CREATE TABLE updates (
    Date   DATE,
    Minor  SMALLINT,
    Build  SMALLINT,
    Reason VARCHAR(50)
);

INSERT INTO updates VALUES ('2007-06-12', 0, 61, 'Patch NF0607-NF panel reference data');
INSERT INTO updates VALUES ('2007-09-03', 0, 68, 'Patch NH0907-NH panel reference data');
