-- A small product database for trying the patch: the three tables it reads and writes, a few
-- organisms of the NH panel, the panels, and a short update history.

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

INSERT INTO NHBASE VALUES (1, 'Neisseria gonorrhoeae',   0, 0, 0, 100, 0, 0, 0, 100, 100, 0, 0, 0, 0.99);
INSERT INTO NHBASE VALUES (2, 'Neisseria meningitidis',  0, 99, 0, 100, 0, 0, 0, 0, 100, 100, 0, 0, 0.99);
INSERT INTO NHBASE VALUES (3, 'Neisseria lactamica',     0, 0, 0, 100, 0, 0, 99, 0, 100, 100, 0, 0, 0.99);
INSERT INTO NHBASE VALUES (4, 'Moraxella catarrhalis',   0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 1);
INSERT INTO NHBASE VALUES (5, 'Haemophilus influenzae',  0, 0, 50, 25, 0, 75, 0, 0, 100, 0, 0, 0, 0.2109375);

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
